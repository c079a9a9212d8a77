#include "ConfigValue.h"

#include "Report.h"

#include <allegro.h>

#include <cctype>
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
