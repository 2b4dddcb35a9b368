#pragma once
// Text at the registry interface: the program's UTF-16 in the system's ANSI code page and back.
// Embedded NULs are kept; characters the code page cannot hold become its default character.

#include <string>

// Throws WindowsError when the conversion fails, std::bad_alloc when memory runs out.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const char* data, std::size_t size);
