// The DTI computations split their slices with the SDK's slab runner.
#pragma once

#include "sdk/volume/slab_runner.h"
