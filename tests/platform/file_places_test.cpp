// Where prog.ini and the screen captures go: the working directory as it
// always was, unless the program runs installed or may not write there.
#include <gtest/gtest.h>

#include "FilePlaces.h"

namespace vantor {
namespace {

FilePlaceFacts Facts(const char* work, bool writable, bool settingsThere, bool installed) {
  FilePlaceFacts facts;
  facts.WorkingDirectory = QString::fromLatin1(work);
  facts.WorkingDirectoryWritable = writable;
  facts.SettingsFileThere = settingsThere;
  facts.Installed = installed;
  facts.ConfigurationHome = QStringLiteral("/home/anna/.config");
  facts.Pictures = QStringLiteral("/home/anna/Bilder");
  return facts;
}

TEST(FilePlaces, AFolderWithAProgIniOrAWritableOneOfADevelopersBuildKeepsEverything) {
  for (const FilePlaceFacts& facts :
       {Facts("/home/anna/lab", true, true, true), Facts("/srv/ro", false, true, false),
        Facts("/home/anna/build", true, false, false)}) {
    SCOPED_TRACE(facts.WorkingDirectory.toStdString());
    const FilePlaces places = ChooseFilePlaces(facts);
    EXPECT_EQ(places.SettingsFile, facts.WorkingDirectory + "/prog.ini");
    EXPECT_TRUE(places.ScreenFolder.isEmpty());
    EXPECT_FALSE(places.Moved);
  }
}

TEST(FilePlaces, FromTheMenuOrAFolderItMayNotWriteTheyMoveToTheUsersFolders) {
  // Started from the desktop's menu: / or the home folder, installed.
  for (const FilePlaceFacts& facts :
       {Facts("/", false, false, true), Facts("/home/anna", true, false, true),
        Facts("/", false, false, false)}) {
    SCOPED_TRACE(facts.WorkingDirectory.toStdString());
    const FilePlaces places = ChooseFilePlaces(facts);
    EXPECT_EQ(places.SettingsFile, "/home/anna/.config/vantor/prog.ini");
    EXPECT_EQ(places.ScreenFolder, "/home/anna/Bilder/Vantor");
    EXPECT_TRUE(places.Moved);
  }
}

TEST(FilePlaces, InstalledMeansTheSystemsProgramFolders) {
  for (const char* dir : {"/usr/bin", "/usr/local/bin/", "/bin", "/opt/vantor/bin"}) {
    EXPECT_TRUE(IsInstalledLocation(QString::fromLatin1(dir))) << dir;
  }
  for (const char* dir : {"/home/anna/vantor/build/src/app", "/usr/binx", "/tmp"}) {
    EXPECT_FALSE(IsInstalledLocation(QString::fromLatin1(dir))) << dir;
  }
}

}  // namespace
}  // namespace vantor
