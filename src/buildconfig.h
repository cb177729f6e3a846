// Build constants that differ between the Linux, macOS and Windows programs.
// CMake sets VRD_PROGNAME and VRD_PLATFORM_WINDOWS from its VRD_PLATFORM option.
#ifndef VRDSKINCFG_BUILDCONFIG_H
#define VRDSKINCFG_BUILDCONFIG_H

// VRDSKINCFG_BUILD (text) and VRDSKINCFG_BUILD_NUMBER, from BUILD_NUMBER.
#include "buildnumber.h"

#ifndef VRD_PROGNAME
#define VRD_PROGNAME "vrdskincfg"
#endif

#define VRDSKINCFG_DEFAULTZIP "vrd.zip"
#define VRDSKINCFG_VERFILE "skinconfig/ver"
#define VRDSKINCFG_CFGEXT ".cfg"

#endif
