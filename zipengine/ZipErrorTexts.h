// The fixed English texts of the engine's error codes, shared by the
// exception's description and the POSIX system-error description (which
// reuses the errno rows of the same table).
#ifndef ZIPENGINE_ZIPERRORTEXTS_H
#define ZIPENGINE_ZIPERRORTEXTS_H

namespace ZipErrorTexts {

// The text of a code that has one of its own, or nullptr (200, 216 to 218,
// 501, 502 and unknown codes are built from the system description).
const char* Find(int code);

// What a code without any usable text describes as.
extern const char* const kUnspecified;

}  // namespace ZipErrorTexts

#endif
