#include "show/Hooks.h"

// Filled by the show's units when they are plugged in; every empty entry is skipped.
TDemoHooks DemoHooks;
