#include "CommandTable.h"

#include <algorithm>
#include <map>

namespace vantor::cli {

namespace {

// Where the text of a usage starts, after the synopsis.
constexpr qsizetype HelpColumn = 29;
constexpr qsizetype Indent = 2;

}  // namespace

bool CommandForm::Accepts(const QString& option) const {
  return std::any_of(Options.begin(), Options.end(),
                     [&option](const OptionForm& own) { return own.Name == option; });
}

const std::vector<CommandForm>& CommandTable() {
  static const std::vector<CommandForm> table = [] {
    std::vector<CommandForm> all;
    for (auto group : {&PortsCommands, &MeasureCommands, &ClockCommands, &SettingsCommands,
                       &ArchiveCommands, &CaptureCommands, &HistoryCommands}) {
      std::vector<CommandForm> forms = group();
      std::move(forms.begin(), forms.end(), std::back_inserter(all));
    }
    return all;
  }();
  return table;
}

const CommandForm* FindCommand(const QStringList& words) {
  for (const CommandForm& form : CommandTable()) {
    if (words.mid(0, form.Words.size()) == form.Words) {
      return &form;
    }
  }
  return nullptr;
}

std::vector<OptionForm> CommandOptionForms() {
  std::map<QString, OptionForm> byName;
  for (const CommandForm& form : CommandTable()) {
    for (const OptionForm& option : form.Options) {
      byName.emplace(option.Name, option);
    }
  }
  std::vector<OptionForm> options;
  for (auto& entry : byName) {
    options.push_back(std::move(entry.second));
  }
  return options;
}

QString CommandsHelp(const std::vector<const CommandForm*>& forms) {
  const QString indent(Indent, QLatin1Char(' '));
  const QString column(HelpColumn, QLatin1Char(' '));
  QString text = QStringLiteral("Commands:\n");
  for (const CommandForm* form : forms) {
    for (const UsageForm& usage : form->Usage) {
      QStringList help = usage.Help;
      for (qsizetype i = 0; i < usage.Synopsis.size(); ++i) {
        QString line = indent + usage.Synopsis[i];
        // A short synopsis has its text beside it, a long one below.
        if (usage.Synopsis.size() == 1 && line.size() <= HelpColumn - 2 && !help.isEmpty()) {
          line = line.leftJustified(HelpColumn) + help.takeFirst();
        }
        text += line + QLatin1Char('\n');
      }
      for (const QString& line : help) {
        text += column + line + QLatin1Char('\n');
      }
    }
  }
  return text;
}

}  // namespace vantor::cli
