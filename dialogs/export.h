// The export macro of the EXP03200 module: marks the functions the host
// finds with dlsym; everything else in the module stays hidden. It sits at
// the bottom of the module, so every folder of the module may include it.
#pragma once

#define EXP03200_EXPORT __attribute__((visibility("default")))
