// The version of the program, as the about box and --version show it (the
// package build reads it from here too).
#pragma once

#define TARVELIN_VERSION "01.01"
