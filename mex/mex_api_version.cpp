// The second export of the macOS plug-ins, which a macOS host calls before
// mexFunction (mex_host.h says what it answers). Only the macOS builds link
// this file (macos/CMakeLists.txt).
#include "host_api.h"

MEX_ENTRY_POINT void mexfilerequiredapiversion(unsigned* built_by_release, unsigned* target_api) {
    *built_by_release = MEX_BUILT_BY_RELEASE;
    *target_api = MEX_TARGET_API_730;
}
