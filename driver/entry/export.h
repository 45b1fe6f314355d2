// Marks a function as an entry point of the driver libraries. Which of the entries a
// library really exports is decided by its linker version script, made from exports.def.
#pragma once

#define VARNO_EXPORT extern "C" __attribute__((visibility("default")))
