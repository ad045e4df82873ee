#pragma once
// The system's text for the calling thread's last error (errno), trailing whitespace
// removed; empty when there is no last error. Error texts that end in two line feeds are
// followed by it.
#include <string>

std::string LastErrorText();
std::string SystemErrorText(int code);
