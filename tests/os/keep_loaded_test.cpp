// The sanitized build keeps every library a program loads until the program ends
// (cmake/KeepLoaded.c), so the leak checker at exit can name the library a block was allocated
// in. Without it the frames of an unloaded library (the GL driver) read "<unknown module>", no
// suppression matches, and the result depends on the packages the machine has.

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)

#include <dlfcn.h>

namespace {

// A library of the system's that no test program links and nothing here loads.
constexpr const char* Library = "libjpeg.so.62";

TEST(SanitizedBuild, ALibraryClosedStaysLoadedForTheLeakCheck) {
  ASSERT_EQ(dlopen(Library, RTLD_NOW | RTLD_NOLOAD), nullptr) << Library << " is loaded already: it proves nothing";
  void* handle = dlopen(Library, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  EXPECT_EQ(dlclose(handle), 0);
  void* again = dlopen(Library, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(again, handle) << "the library was unloaded";
  // A library that goes through dlclose's path of its own (libEGL, SDL) is kept the same way:
  // the program's dlclose is the one every library binds to.
  using Close = int (*)(void*);
  EXPECT_EQ(reinterpret_cast<Close>(dlsym(RTLD_DEFAULT, "dlclose")), reinterpret_cast<Close>(&dlclose));
}

}  // namespace

#endif
