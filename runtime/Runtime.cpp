#include "runtime/Runtime.h"

#include <exception>

#include "runtime/Array.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Startup.h"
#include "runtime/String.h"
#include "runtime/Threads.h"

namespace vrl {

void runtime::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  vrRegisterClass(Object::StaticClass());
  vrRegisterClass(String::StaticClass());
  vrRegisterClass(Array::StaticClass());
  vrRegisterClass(TVorlException::StaticClass());
  vrRegisterClass(TNullObjectException::StaticClass());
  vrRegisterClass(TNullMethodException::StaticClass());
  vrRegisterClass(TNullFunctionException::StaticClass());
  vrRegisterClass(TArrayBoundsException::StaticClass());
  vrRegisterClass(TOutOfDataException::StaticClass());
  vrRegisterClass(TRuntimeException::StaticClass());
}

namespace {
// A throw that no frame catches ends in std::terminate: hand the thrown
// object to the unhandled-exception hook there.
[[noreturn]] void OnTerminate() {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const ThrownObject& e) {
      HandleUnhandledException(e.object());
    } catch (...) {
    }
  }
  std::abort();
}
}  // namespace

void StartRuntime(void* stackBase, int argc, char** argv) {
  GCSetStackBase(stackBase);
  std::set_terminate(&OnTerminate);
  InitThreads(stackBase);
  InitApplicationGlobals(argc, argv);
  runtime::Init();
}

}  // namespace vrl
