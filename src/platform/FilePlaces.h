#pragma once
#include <QString>

namespace vantor {

// Where the program keeps its settings file and the screen captures. Run
// from a folder of the user's (a prog.ini there, or a folder it may write),
// that folder, as always; started from the desktop's menu or from an
// installed location (the working directory then being / or the home
// folder), the settings under the configuration home and the pictures where
// the user keeps pictures, so nothing is scattered into the home folder.
struct FilePlaces {
  QString SettingsFile;  // prog.ini
  QString ScreenFolder;  // screen.bmp and screen.txt; empty: the working directory
  bool Moved = false;    // not the working directory
};

// What the choice depends on.
struct FilePlaceFacts {
  QString WorkingDirectory;
  bool WorkingDirectoryWritable = true;
  bool SettingsFileThere = false;  // the working directory holds a prog.ini
  bool Installed = false;          // the program runs from where a package puts it
  QString ConfigurationHome;       // $XDG_CONFIG_HOME or ~/.config
  QString Pictures;                // the user's pictures folder
};

FilePlaces ChooseFilePlaces(const FilePlaceFacts& facts);

// Whether `programDirectory` is where installed programs live (/usr/bin,
// /usr/local/bin, /opt/...), as opposed to a build tree or a copy of one.
bool IsInstalledLocation(const QString& programDirectory);

// The facts of this process: its working directory, the folders of the
// environment, and `programDirectory` (the executable's folder).
FilePlaceFacts CurrentFilePlaceFacts(const QString& programDirectory);

// $XDG_CONFIG_HOME, or ~/.config when it is not set.
QString ConfigurationHome();

}  // namespace vantor
