// Where the program's own files are, found from the running executable so that a build tree, an
// installed tree under any prefix and a tree moved elsewhere all work without a configured path.
//
// The build tree keeps everything beside the executable (bin/axiscore, bin/libkestrel.so,
// bin/resources/). The installed tree spreads it over the usual folders: bin/axiscore, the
// program's private libraries in lib/axiscore/ and its data in share/axiscore/ (the exact folders
// are those the build was configured to install to, kept relative to bin/).
#pragma once

#include <string>

namespace axis {

// The directory of the running executable, symbolic links resolved (empty when unknown).
std::string ExecutableDirectory();

enum class ProgramFolder {
  kLibraries,  // the plug-in, the desktop front end (installed: lib/axiscore/)
  kData,       // resources/, bundled setups (installed: share/axiscore/)
};

// The program's file or folder `name` of that kind: beside the executable when it is there (the
// build tree), else in the installed folder of that kind relative to the executable, which is
// also the answer when it is in neither place (so that an error names where it belongs).
std::string FindProgramFile(ProgramFolder folder, const std::string& name);

}  // namespace axis
