// Console output and input of the program object: plain messages, located
// errors, line reading and the question loop. Everything goes to stdout.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "SkinCfgProgram.h"

namespace {

const size_t kOutputSize = 1024;  // one formatted text, NUL included
const size_t kInputSize = 256;    // the shared input buffer

char g_input[kInputSize];
size_t g_inputlength;  // bytes of the last line kept in g_input, NULs included

// The one formatter of all output: formats into a fixed text, cut rather
// than overrun, and writes it as it stands.
void WriteFormatted(const char* format, va_list args) {
  char text[kOutputSize];
  if (vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  fwrite(text, 1, strlen(text), stdout);
}

}  // namespace

void SkinCfgProgram::PrintMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args);
  va_end(args);
}

void SkinCfgProgram::PrintReason(const std::string& text) {
  PrintMessage("Reason: %s\n", text.c_str());
}

void SkinCfgProgram::PrintLocation(const char* unit, int line, const char* prefix,
                                   const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLocated(unit, line, prefix, format, args);
  va_end(args);
}

// One located line: prefix, "[unit:line] " with the unit's bare name, text.
void SkinCfgProgram::PrintLocated(const char* unit, int line, const char* prefix,
                                  const char* format, va_list args) {
  const char* base = unit;
  for (const char* p = unit; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  PrintMessage("%s[%s:%d] ", prefix, base, line);
  WriteFormatted(format, args);
}

void SkinCfgProgram::PrintError(const char* unit, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLocated(unit, line, "ERROR: ", format, args);
  va_end(args);
}

// Reports like PrintError; no operation uses it, it is kept for tracing.
void SkinCfgProgram::PrintDebug(const char* unit, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLocated(unit, line, "DEBUG: ", format, args);
  va_end(args);
}

const char* SkinCfgProgram::ReadLine() {
  // Prompts end without a line break: show them before waiting.
  fflush(stdout);
  // Byte by byte rather than fgets: a NUL byte must neither hide the end of
  // the line from us nor make the line look shorter than it was typed.
  size_t len = 0;
  int c = EOF;
  while (len < kInputSize - 1 && (c = getc(stdin)) != EOF && c != '\n') {
    g_input[len++] = static_cast<char>(c);
  }
  g_input[len] = '\0';
  g_inputlength = len;
  if (len == 0 && c == EOF) {
    inputended = true;
    return nullptr;
  }
  // Overlong line: keep the first 255 characters, drop the rest of the line.
  if (len == kInputSize - 1) {
    while ((c = getc(stdin)) != EOF && c != '\n') {
    }
  }
  return g_input;
}

int SkinCfgProgram::ClassifyInput(const char* line) {
  size_t len = strlen(line);
  if (len == 0) return INPUT_EMPTY;
  if (len == 1) {
    int c = tolower(static_cast<unsigned char>(line[0]));
    if (c == 'n') return INPUT_NO;
    if (c == 'y') return INPUT_YES;
  }
  if (line[0] >= '1' && line[0] <= '9') {
    if (len == 1) return line[0] - '0';
    if (len == 2 && line[1] >= '0' && line[1] <= '9') return (line[0] - '0') * 10 + (line[1] - '0');
  }
  return 0;
}

int SkinCfgProgram::GetInput() {
  const char* line = ReadLine();
  if (line == nullptr) return -1;
  // A NUL byte inside the line: whatever comes before it is not the answer.
  if (strlen(line) != g_inputlength) return 0;
  return ClassifyInput(line);
}

bool SkinCfgProgram::AskQuestion(const char* question, int minnum, int maxnum, bool acceptempty,
                                 bool acceptyesno, int* answer) {
  const char* prompt = question;
  for (;;) {
    PrintMessage("%s", prompt);
    int a = GetInput();
    if (a < 0) {
      PrintMessage("ERROR: Unexpected end of input.\n");
      return false;
    }
    prompt = "Invalid input, try again: ";
    bool accepted = (a >= minnum && a <= maxnum && a >= 1 && a <= 99) ||
                    (acceptempty && a == INPUT_EMPTY) ||
                    (acceptyesno && (a == INPUT_YES || a == INPUT_NO));
    if (accepted) {
      *answer = a;
      return true;
    }
  }
}

bool SkinCfgProgram::AskYesNo(const char* question, bool* yes) {
  int answer = 0;
  if (!AskQuestion(question, 1, 0, false, true, &answer)) return false;
  *yes = (answer == INPUT_YES);
  return true;
}
