// The program's entry point on both targets.
#include "app/application.h"
#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Zentrovak::Platform::InitializeProcess(0, nullptr);
  return Zentrovak::App::RunApplication();
}
#else
int main(int argc, char** argv) {
  Zentrovak::Platform::InitializeProcess(argc, argv);
  return Zentrovak::App::RunApplication();
}
#endif
