// Where the program keeps settings.txt and the traces folder.
#pragma once

#include <string>
#include <vector>

struct TFolderPlaces {
    std::string ProgramFolder;    // the folder of the running executable
    std::string InstallBinFolder; // the folder the package installs the executable into
    std::string FolderOption;     // --folder, empty when not given
    std::string ConfigFolder;     // the user's configuration folder for this program
    std::string DataFolder;       // the user's data folder for this program
};

struct TFolders {
    std::string SettingsFolder; // holds settings.txt
    std::string DataFolder;     // holds traces/
};

// A folder named on the command line wins; an installed program (its executable in the install
// folder) never writes beside itself, since that folder belongs to the package and is not the
// operator's, so it uses the user's folders; a program run from anywhere else keeps its files
// beside the executable, as a build or a copy in a folder of one's own always has.
TFolders ChooseFolders(const TFolderPlaces& places);

// On Windows a program has no fixed install folder: it counts as installed when its folder lies
// inside one of the system's program folders (Program Files). Returns ProgramFolder then, to be
// the install folder, and an empty text otherwise. Letter case and either slash are ignored.
std::string InstalledUnder(const std::string& programFolder, const std::vector<std::string>& programRoots);
