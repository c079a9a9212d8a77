// Allegro's configuration as the program reads it.
#pragma once

// The value of a key as it stands, or null where the key is missing. Allegro
// keeps a comment that follows a value as part of it: a value that holds
// whitespace followed by # is used all the same (a name may hold a #), and
// named on stderr.
const char* config_value(const char* section, const char* key);

// A whole number of low to high; a missing key gives fallback (the default), and
// so does any other value, which is named on stderr.
int config_number(const char* section, const char* key, int low, int high, int fallback);
