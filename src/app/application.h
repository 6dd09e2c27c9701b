// The run of the program: start-up, the message loop, the clean-up.
#pragma once

namespace Zentrovak::App {

// Runs the whole life of the application and answers the process exit code.
int RunApplication();

}  // namespace Zentrovak::App
