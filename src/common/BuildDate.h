#pragma once
#include <ctime>
#include <string>

// The version date shown by About and setup, from the compiler's date text
// ("Sep 16 2006" gives "September 16, 2006").
std::string BuildDateText(const char* compilerDate);
// Local calendar time of the compiler's date and time texts.
std::time_t BuildTimestamp(const char* compilerDate, const char* compilerTime);

// The program's own build date, computed once.
const std::string& ProgramBuildDate();
