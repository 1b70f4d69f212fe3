// A reader for registry files in the Windows .reg text format, which keeps
// the line settings and the COM port map where there is no registry.
//
// Accepted grammar, strictly: an optional UTF-8 byte-order mark; a header
// line "Windows Registry Editor Version 5.00" or "REGEDIT4"; then blank
// lines, comment lines starting with ";", section lines "[KEY\PATH]" and
// value lines `"Name"=data` or `@=data`, where data is a string in double
// quotes (escapes \\ and \" only) or any other registry type (dword:...,
// hex...:...) that is recognised but cannot be read as text. Lines end with
// LF or CR LF. Key paths and value names compare without regard to case.
// Anything else makes the whole file malformed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::regfile {

enum class Result {
  Ok,
  Malformed,  // not a .reg file, or a line outside the grammar
  NoSection,  // the key is not in the file
  NoValue,    // the key has no such value
  NotText,    // the value is of another type than a string
  TooLarge,   // the value with its terminator does not fit the room given
};

// Checks the whole text against the grammar.
Result Validate(const char* text, size_t len);

// The number (from 1) of the first line outside the grammar, the header
// line when it is missing, or 0 for a well-formed text. For tools that say
// where a registry file is wrong.
size_t FirstBadLine(const char* text, size_t len);

// Reads the string `valueName` of section `section` ("HKEY_CLASSES_ROOT\A\B").
// On Ok, out holds the string with its terminator and *size its bytes
// (terminator included). On TooLarge, *size is the room it needs. `cap` is
// the room in out.
Result ReadString(const char* text, size_t len, const char* section, const char* valueName,
                  char* out, uint32_t cap, uint32_t* size);

// The names of the string and other values of `section`, in file order,
// into names[room] (names of 256 bytes or more are left out). Returns how
// many were stored; 0 for a malformed text.
size_t ValueNames(const char* text, size_t len, const char* section, char (*names)[256],
                  size_t room);

// Whether the section exists (the file being well formed).
Result FindSection(const char* text, size_t len, const char* section);

}  // namespace tarvo::regfile
