#include "ConfigValue.h"

#include "Report.h"

#include <allegro.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

const char* config_value(const char* section, const char* key)
{
    const char* value = get_config_string(section, key, nullptr);
    for (const char* c = value; c && *c; ++c)
        if (std::isspace(static_cast<unsigned char>(*c)) && c[1] == '#') {
            report(Severity::Warning, std::string("[") + section + "] " + key + " = " + value +
                                          ": Allegro keeps a comment that follows a value as part of the value, "
                                          "and so does Kalverosin 4; put comments on lines of their own.");
            break;
        }
    return value;
}

int config_number(const char* section, const char* key, int low, int high, int fallback)
{
    const char* value = config_value(section, key);
    if (!value || !*value) return fallback;
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(value, &end, 10);
    if (*end == '\0' && errno == 0 && number >= low && number <= high) return static_cast<int>(number);
    report(Severity::Warning, std::string("[") + section + "] " + key + " = " + value + " is not a number of " +
                                  std::to_string(low) + " to " + std::to_string(high) + "; the default is used.");
    return fallback;
}
