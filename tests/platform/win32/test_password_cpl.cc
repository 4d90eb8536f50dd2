// A stand-in for the system's password.cpl: VerifyScreenSavePwd answers what the variable
// QUENVALE_TEST_PASSWORD_ANSWER says ("accept", anything else refuses), or, when the variable
// QUENVALE_TEST_PASSWORD_FILE names a file, what that file begins with (so that a test can change
// the answer while the saver runs). It leaves the window handle it was given in
// QUENVALE_TEST_PASSWORD_WINDOW (and, with the file, a file of the same name plus ".asked"), so
// that a test sees that it was asked.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

extern "C" __attribute__((dllexport)) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
  char text[32];
  std::snprintf(text, sizeof(text), "%llu",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  SetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_WINDOW", text);
  char answer[16] = {};
  GetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_ANSWER", answer, sizeof(answer));
  char path[MAX_PATH] = {};
  if (GetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_FILE", path, sizeof(path)) > 0) {
    std::memset(answer, 0, sizeof(answer));
    if (FILE* file = std::fopen(path, "rb")) {
      const size_t length = std::fread(answer, 1, 6, file);
      answer[length] = '\0';
      std::fclose(file);
    }
    // Beside it, a mark that the check was asked, for a test that watches from outside.
    if (FILE* mark = std::fopen((std::string(path) + ".asked").c_str(), "wb")) std::fclose(mark);
  }
  // Only the low byte counts: a refusal with higher bits set must still refuse.
  return std::strcmp(answer, "accept") == 0 ? TRUE : 0x100;
}
