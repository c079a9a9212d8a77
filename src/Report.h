// Every message the program has for its user goes through report(): one line on
// stderr that starts "Kalverosin 4: " and says what failed and why.
#pragma once

#include <string>

enum class Severity {
    Warning,  // the program goes on
    Fatal,    // it cannot: the window closes, a message box says so, and the program ends with status 1
};

// For a fatal message, box is what the message box shows (the line itself when empty).
void report(Severity severity, const std::string& line, const std::string& box = "");
// The box's text, wrapped to lines that fit it.
std::string wrapped_for_box(const std::string& text);
