#pragma once

// The fakes moved to support/; this name stays for the tests still including it.
#include "support/FakePlatformServices.h"
