// vantorctl's table of commands: every command is named by its words alone,
// takes every option its help names, and refuses a wrong command line with
// one line and exit status 1, mistakes said in a fixed order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QRegularExpression>
#include <map>
#include <set>

#include "CommandLine.h"
#include "CommandTable.h"
#include "CoreApplication.h"
#include "TempConfigHome.h"
#include "Vantorctl.h"

namespace vantor::cli {
namespace {

const std::set<QString> GlobalOptionNames = {"help",   "version", "port", "device",
                                             "format", "history", "trace"};

// The --long options a text names.
std::set<QString> OptionsNamedIn(const QString& text) {
  std::set<QString> names;
  static const QRegularExpression option(QStringLiteral("--([a-z][a-z-]*[a-z])"));
  for (const QRegularExpressionMatch& match : option.globalMatch(text)) {
    names.insert(match.captured(1));
  }
  return names;
}

QString UsageText(const CommandForm& form) {
  QString text;
  for (const UsageForm& usage : form.Usage) {
    text += usage.Synopsis.join(QLatin1Char('\n')) + QLatin1Char('\n') +
            usage.Help.join(QLatin1Char('\n')) + QLatin1Char('\n');
  }
  return text;
}

// A right value of each option that takes one.
const std::map<QString, QString> GoodValues = {{"count", "2"},
                                               {"interval", "0.5"},
                                               {"out", "out.csv"},
                                               {"what", "readings"},
                                               {"from", "2026-12-01T00:00"},
                                               {"to", "2026-12-09T14:00:00+01:00"},
                                               {"instrument", "7:0100a5"},
                                               {"kind", "clock_set,dose_reset"},
                                               {"pin", "3"},
                                               {"unpin", "4"}};

// A line the command takes: its words and what it cannot go without.
QStringList RightLine(const CommandForm& form) {
  QStringList line = QStringList{"vantorctl"} + form.Words;
  if (form.Files == 1) {
    line << (form.Name() == QLatin1String("screen") ? "display.png" : "file.json");
  }
  if (form.Name() == QLatin1String("history export")) {
    line << "--what"
         << "archive";
  } else if (form.Name() == QLatin1String("history events")) {
    line << "--instrument"
         << "0100a5";
  } else if (form.Name() == QLatin1String("archive erase")) {
    line << "--yes";
  }
  return line;
}

// Standard input that is no terminal, as in a script, while it lives.
class NoTerminal {
 public:
  NoTerminal() : saved_(::dup(STDIN_FILENO)) {
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(null, STDIN_FILENO);
    ::close(null);
  }
  ~NoTerminal() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  NoTerminal(const NoTerminal&) = delete;
  NoTerminal& operator=(const NoTerminal&) = delete;

 private:
  int saved_;
};

class CommandTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureCoreApplication(); }

  struct Result {
    int Exit = -1;
    QString Out;
    QString Err;
  };
  // vantorctl run in this process on a line that never gets to a port.
  static Result Run(const QStringList& arguments) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Result result;
    result.Exit = RunVantorctl(QStringList{"vantorctl"} + arguments);
    result.Err = QString::fromStdString(::testing::internal::GetCapturedStderr());
    result.Out = QString::fromStdString(::testing::internal::GetCapturedStdout());
    return result;
  }
  static void ExpectRefused(const QStringList& arguments, const QString& message) {
    const Result result = Run(arguments);
    EXPECT_EQ(result.Exit, ExitUsage) << arguments.join(' ').toStdString();
    EXPECT_EQ(result.Err.toStdString(),
              ("vantorctl: " + message + " (see vantorctl --help)\n").toStdString())
        << arguments.join(' ').toStdString();
    EXPECT_TRUE(result.Out.isEmpty()) << arguments.join(' ').toStdString();
  }

  TempConfigHome home;
  NoTerminal script;
};

TEST_F(CommandTableTest, EveryCommandIsNamedByItsWordsAloneAndRuns) {
  const std::vector<CommandForm>& table = CommandTable();
  ASSERT_FALSE(table.empty());
  std::set<QString> names;
  for (const CommandForm& form : table) {
    SCOPED_TRACE(form.Name().toStdString());
    EXPECT_TRUE(names.insert(form.Name()).second) << "two commands of one name";
    EXPECT_EQ(FindCommand(form.Words), &form);
    EXPECT_EQ(FindCommand(form.Words + QStringList{"file.json", "more"}), &form);
    EXPECT_NE(form.Run, nullptr);
    ASSERT_FALSE(form.Usage.empty());
    for (const UsageForm& usage : form.Usage) {
      ASSERT_FALSE(usage.Synopsis.isEmpty());
      EXPECT_TRUE(usage.Synopsis.front().startsWith(form.Name()))
          << usage.Synopsis.front().toStdString();
      EXPECT_FALSE(usage.Help.isEmpty());
    }
    // A command whose words begin another's would hide it, or be hidden.
    for (const CommandForm& other : table) {
      if (&other != &form) {
        EXPECT_NE(other.Words.mid(0, form.Words.size()), form.Words) << other.Name().toStdString();
      }
    }
    EXPECT_TRUE(form.NeedsInstrument || !form.Several) << "several of no instrument";
    EXPECT_TRUE(form.File == SeveralRun::FileName::None || form.Several);
  }
  EXPECT_EQ(FindCommand({"settings"}), nullptr);
  EXPECT_EQ(FindCommand({"archive", "reads"}), nullptr);
  EXPECT_EQ(FindCommand({}), nullptr);
}

TEST_F(CommandTableTest, EveryOptionTheHelpNamesIsTakenAndEveryOptionTakenIsNamed) {
  std::map<QString, OptionForm> byName;
  for (const CommandForm& form : CommandTable()) {
    SCOPED_TRACE(form.Name().toStdString());
    const std::set<QString> named = OptionsNamedIn(UsageText(form));
    for (const QString& option : named) {
      EXPECT_TRUE(form.Accepts(option) || GlobalOptionNames.count(option) == 1)
          << "--" << option.toStdString() << " named but not taken";
    }
    for (const OptionForm& option : form.Options) {
      EXPECT_EQ(named.count(option.Name), 1u)
          << "--" << option.Name.toStdString() << " taken but not named";
      EXPECT_EQ(GlobalOptionNames.count(option.Name), 0u) << "shadows an option of all";
      // The parser knows an option once: commands that share it agree on it.
      const auto [known, added] = byName.emplace(option.Name, option);
      if (!added) {
        EXPECT_EQ(known->second.Description, option.Description) << option.Name.toStdString();
        EXPECT_EQ(known->second.ValueName, option.ValueName) << option.Name.toStdString();
        EXPECT_EQ(known->second.Default, option.Default) << option.Name.toStdString();
      }
      // Taken on a line that is otherwise right, with a value that is.
      QStringList line = RightLine(form);
      if (!line.contains("--" + option.Name)) {
        line << "--" + option.Name;
        if (!option.ValueName.isEmpty()) {
          ASSERT_EQ(GoodValues.count(option.Name), 1u) << option.Name.toStdString();
          line << GoodValues.at(option.Name);
        }
        if (option.Name == QLatin1String("pin")) {
          line << "/dev/null";
        }
      }
      const CommandLine read = ReadCommandLine(line);
      EXPECT_EQ(read.Form, &form) << line.join(' ').toStdString() << ": "
                                  << read.Mistake.toStdString();
    }
  }
  EXPECT_EQ(CommandOptionForms().size(), byName.size());

  // The whole help names no option that nothing takes.
  const QString help = HelpText();
  for (const QString& option : OptionsNamedIn(help)) {
    EXPECT_TRUE(byName.count(option) == 1 || GlobalOptionNames.count(option) == 1)
        << option.toStdString();
  }
  for (const CommandForm& form : CommandTable()) {
    for (const UsageForm& usage : form.Usage) {
      EXPECT_TRUE(help.contains("  " + usage.Synopsis.front())) << form.Name().toStdString();
    }
  }
}

TEST_F(CommandTableTest, TheValuesOfARightLineReachTheCommand) {
  CommandLine live = ReadCommandLine(
      {"vantorctl", "--format", "csv", "live", "--count", "7", "--interval", "0.1"});
  ASSERT_NE(live.Form, nullptr) << live.Mistake.toStdString();
  EXPECT_EQ(live.Form->Name(), "live");
  EXPECT_EQ(live.Options.Output, Format::Csv);
  EXPECT_EQ(live.Options.Count, 7);
  EXPECT_DOUBLE_EQ(live.Options.Interval, 0.1);
  CommandLine endless = ReadCommandLine({"vantorctl", "--port", "5", "live"});
  ASSERT_NE(endless.Form, nullptr) << endless.Mistake.toStdString();
  EXPECT_EQ(endless.Options.Count, -1);
  EXPECT_DOUBLE_EQ(endless.Options.Interval, 1.0);
  EXPECT_EQ(endless.Port, 5);

  CommandLine events =
      ReadCommandLine({"vantorctl", "history", "events", "--instrument", "7:0100A5", "--kind",
                       "clock_set, dose_reset,", "--to", "2026-12-09T14:00"});
  ASSERT_NE(events.Form, nullptr) << events.Mistake.toStdString();
  EXPECT_EQ(events.Options.Instrument, "7:0100A5");
  EXPECT_EQ(events.Options.Kinds,
            (std::vector<EventKind>{EventKind::ClockSet, EventKind::DoseReset}));
  EXPECT_EQ(events.Options.To, "2026-12-09T14:00");
  EXPECT_TRUE(events.Options.From.isEmpty());

  CommandLine pin = ReadCommandLine({"vantorctl", "ports", "--pin", "254", "/dev/ttyUSB0"});
  ASSERT_NE(pin.Form, nullptr) << pin.Mistake.toStdString();
  EXPECT_EQ(pin.Options.Pin, 254);
  EXPECT_EQ(pin.Options.Words, QStringList{"/dev/ttyUSB0"});

  CommandLine several =
      ReadCommandLine({"vantorctl", "--port", "4,3", "archive", "read", "--out", "week"});
  ASSERT_NE(several.Form, nullptr) << several.Mistake.toStdString();
  EXPECT_TRUE(several.Ports.Several());
  EXPECT_EQ(several.Port, 0);
  EXPECT_EQ(several.Options.OutFile, "week");
}

TEST_F(CommandTableTest, EveryCommandRefusesWordsItDoesNotTakeAndOptionsOfOthers) {
  for (const CommandForm& form : CommandTable()) {
    const QStringList words = RightLine(form).mid(1);
    if (form.Files == 0) {
      ExpectRefused(words + QStringList{"stray"}, form.Name() + " takes no further arguments");
    } else {
      QStringList none = form.Words;
      ExpectRefused(none, form.Name() + " needs a file name");
      ExpectRefused(words + QStringList{"second"}, form.Name() + " needs a file name");
    }
    // The first option of another command, by name.
    for (const OptionForm& option : CommandOptionForms()) {
      if (!form.Accepts(option.Name)) {
        QStringList line = words + QStringList{"--" + option.Name};
        if (!option.ValueName.isEmpty()) {
          line << GoodValues.at(option.Name);
        }
        ExpectRefused(line, "--" + option.Name + " does not go with " + form.Name());
        break;
      }
    }
  }
}

TEST_F(CommandTableTest, EachCommandsOwnChecksRefuseAWrongValue) {
  const std::vector<std::pair<QStringList, QString>> wrong = {
      {{"ports", "--pin", "0", "/dev/null"}, "--pin needs a COM number from 1 to 254"},
      {{"ports", "--unpin", "255"}, "--unpin needs a COM number from 1 to 254"},
      {{"ports", "--unpin", "COM3"}, "--unpin needs a COM number from 1 to 254"},
      {{"ports", "--pin", "3", "--unpin", "4", "/dev/null"}, "--pin and --unpin: one at a time"},
      {{"ports", "--pin", "3"}, "ports --pin N needs the PATH to pin"},
      {{"ports", "--pin", "3", "a", "b"}, "ports --pin N needs the PATH to pin"},
      {{"live", "--count", "0"}, "--count needs a whole number of readings, 1 or more"},
      {{"live", "--count", "2.5"}, "--count needs a whole number of readings, 1 or more"},
      {{"live", "--interval", "0.09"}, "--interval needs seconds from 0.1 to 86400"},
      {{"live", "--interval", "86400.5"}, "--interval needs seconds from 0.1 to 86400"},
      {{"live", "--interval", "nan"}, "--interval needs seconds from 0.1 to 86400"},
      {{"archive", "erase"}, "archive erase asks first; without a terminal to ask on, give --yes"},
      {{"screen", "display"}, "screen writes a .bmp or a .png file"},
      {{"screen", "display.jpg"}, "screen writes a .bmp or a .png file"},
      {{"history", "export"}, "history export needs --what archive, readings or events"},
      {{"history", "export", "--what", "Archive"},
       "history export needs --what archive, readings or events"},
      {{"history", "export", "--what", "events", "--from", "yesterday"},
       "\"yesterday\" is no ISO 8601 time (2026-12-09T14:00)"},
      {{"--format", "json", "history", "export", "--what", "events"},
       "history export writes CSV; --format json does not go with it"},
      {{"history", "events"},
       "history events needs --instrument with the device data in hex or its start (7:0100a5 or "
       "0100a5)"},
      {{"history", "events", "--instrument", "0100a5", "--kind", "clock_set,reboot"},
       "--kind: \"reboot\" is none of settings_write, service_write, factory_reset, clock_set, "
       "dose_reset, archive_erase"},
      {{"history", "events", "--instrument", "0100a5", "--to", "2026-13-01"},
       "\"2026-13-01\" is no ISO 8601 time (2026-12-09T14:00)"},
  };
  for (const auto& [arguments, message] : wrong) {
    ExpectRefused(arguments, message);
  }
  // The same values, right, pass.
  EXPECT_NE(ReadCommandLine({"vantorctl", "screen", "display.BMP"}).Form, nullptr);
  EXPECT_NE(ReadCommandLine({"vantorctl", "live", "--interval", "86400"}).Form, nullptr);
  EXPECT_NE(ReadCommandLine({"vantorctl", "ports", "--unpin", "1"}).Form, nullptr);
}

// Of two mistakes on one line, the one said is always the same.
TEST_F(CommandTableTest, OfTwoMistakesTheSameIsSaidFirst) {
  const std::vector<std::pair<QStringList, QString>> both = {
      {{"--format", "xml", "nothing"}, "--format is people, csv or json, not \"xml\""},
      {{"info", "stray", "--unpin", "3"}, "info takes no further arguments"},
      {{"ports", "--pin", "0", "--probe", "--sync"}, "--pin needs a COM number from 1 to 254"},
      {{"live", "--sync", "--count", "0"}, "--sync does not go with live"},
      {{"live", "--count", "0", "--port", "0"},
       "--count needs a whole number of readings, 1 or more"},
      {{"--port", "3,4", "archive", "erase"},
       "archive erase works on one instrument at a time; give one --port"},
      {{"--port", "3,4", "--trace", "t", "screen", "x.jpg"},
       "screen works on one instrument at a time; give one --port"},
      {{"--port", "3", "--device", "/dev/null", "screen", "x.jpg"},
       "--port and --device name two places; give one"},
      {{"--port", "3", "history", "export", "--what", "x"},
       "history export needs --what archive, readings or events"},
      {{"--port", "3", "--history", "postgresql://h:x/db", "history", "instruments"},
       "history instruments looks at the port map; --port and --device do not go with it"},
      {{"--format", "json", "--history", "postgresql://h:x/db", "history", "export", "--what",
        "archive"},
       "--history: " + ConfiguredHistoryLocation("postgresql://h:x/db").Error},
  };
  for (const auto& [arguments, message] : both) {
    ExpectRefused(arguments, message);
  }
}

TEST_F(CommandTableTest, ACommandsHelpIsItsUsagesAndItsOwnOptions) {
  const Result read = Run({"archive", "read", "--help"});
  EXPECT_EQ(read.Exit, ExitDone);
  EXPECT_TRUE(read.Err.isEmpty());
  const CommandLine asked = ReadCommandLine({"vantorctl", "archive", "read", "--help"});
  ASSERT_EQ(asked.Form, nullptr);
  EXPECT_EQ(read.Out.toStdString(), asked.Text.toStdString());
  EXPECT_TRUE(asked.Text.startsWith("Usage: vantorctl [options] archive read [arguments]\n"))
      << asked.Text.toStdString();
  EXPECT_TRUE(asked.Text.contains("  archive read [--out FILE]  every archive record"))
      << asked.Text.toStdString();
  EXPECT_TRUE(asked.Text.contains("--out <FILE>"));
  EXPECT_FALSE(asked.Text.contains("archive erase"));
  EXPECT_FALSE(asked.Text.contains("--yes"));

  const QString settings = ReadCommandLine({"vantorctl", "--help", "settings"}).Text;
  EXPECT_TRUE(settings.startsWith("Usage: vantorctl [options] settings [arguments]\n"));
  for (const char* usage : {"settings show", "settings backup FILE", "settings restore FILE"}) {
    EXPECT_TRUE(settings.contains(usage)) << usage;
  }
  EXPECT_EQ(OptionsNamedIn(settings).count("dry-run"), 1u);
  EXPECT_FALSE(settings.contains("archive read"));

  // Words that name no command get the whole help.
  EXPECT_EQ(ReadCommandLine({"vantorctl", "--help", "nothing"}).Text, HelpText());
  EXPECT_EQ(ReadCommandLine({"vantorctl", "--help"}).Text, HelpText());
}

TEST_F(CommandTableTest, AShortSynopsisHasItsTextBesideItALongOneBelow) {
  CommandForm form;
  form.Usage = {{{QString(25, 'a')}, {"first", "second"}},
                {{QString(26, 'b')}, {"third"}},
                {{"cc", "  dd"}, {"fourth"}}};
  const QString column(29, ' ');
  const QStringList expected = {"Commands:",
                                "  " + QString(25, 'a') + "  first",
                                column + "second",
                                "  " + QString(26, 'b'),
                                column + "third",
                                "  cc",
                                "    dd",
                                column + "fourth",
                                ""};
  EXPECT_EQ(CommandsHelp({&form}).toStdString(), expected.join('\n').toStdString());
}

}  // namespace
}  // namespace vantor::cli
