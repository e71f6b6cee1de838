#include "SettingsFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include "Csv.h"
#include "Dictionary.h"
#include "SettingsBackup.h"
#include "SettingsText.h"

namespace vantor::cli {
namespace {

const QString FormatKey = QStringLiteral("format");
const QString FormatName = QStringLiteral("vantor settings");
const QString VersionKey = QStringLiteral("version");
const QString DeviceTypeKey = QStringLiteral("device type");
const QString FirmwareKey = QStringLiteral("firmware");
const QString SavedKey = QStringLiteral("saved");
const QString ServiceKey = QStringLiteral("service parameters");
const QString UserKey = QStringLiteral("user settings");

QString ListKey(uint8_t variable) {
  return variable == IdService ? ServiceKey : UserKey;
}

}  // namespace

QByteArray SettingsFileBytes(const ValueStorage& values, const QString& firmware,
                             const QDateTime& saved) {
  QJsonObject root;
  root[FormatKey] = FormatName;
  root[VersionKey] = 1;
  root[DeviceTypeKey] = values.Service.DeviceType;
  root[FirmwareKey] = firmware;
  root[SavedKey] = IsoTime(saved);
  QJsonArray service;
  QJsonArray user;
  for (const MemberText& member : SettingsMemberTexts(values)) {
    QJsonObject entry;
    entry[QStringLiteral("member")] = member.Member;
    entry[QStringLiteral("name")] = member.Name;
    entry[QStringLiteral("value")] = member.Value;
    (member.Variable == IdService ? service : user).append(entry);
  }
  root[ServiceKey] = service;
  root[UserKey] = user;
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool ReadSettingsFile(const QByteArray& bytes, ValueStorage& values, QString* error) {
  const auto fail = [error](const QString& why) {
    *error = why;
    return false;
  };
  QJsonParseError parse{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
  if (parse.error != QJsonParseError::NoError || !document.isObject()) {
    return fail(QStringLiteral("not a settings file: %1").arg(parse.errorString()));
  }
  const QJsonObject root = document.object();
  if (root.value(FormatKey).toString() != FormatName || root.value(VersionKey).toInt() != 1) {
    return fail(QStringLiteral("not a settings file of version 1"));
  }
  const QSet<QString> known = {FormatKey, VersionKey, DeviceTypeKey, FirmwareKey,
                               SavedKey,  ServiceKey, UserKey};
  for (const QString& key : root.keys()) {
    if (!known.contains(key)) {
      return fail(QStringLiteral("unknown entry \"%1\"").arg(key));
    }
  }
  const QJsonValue type = root.value(DeviceTypeKey);
  if (!type.isDouble() || type.toDouble() != type.toInt(-1) || type.toInt() < 0 ||
      type.toInt() > 255) {
    return fail(QStringLiteral("no device type"));
  }

  std::vector<MemberText> members;
  for (const uint8_t variable : {uint8_t{IdService}, uint8_t{IdSettings}}) {
    const QJsonValue list = root.value(ListKey(variable));
    if (!list.isArray()) {
      return fail(QStringLiteral("no list of %1").arg(ListKey(variable)));
    }
    for (const QJsonValue item : list.toArray()) {
      const QJsonObject entry = item.toObject();
      const QJsonValue member = entry.value(QStringLiteral("member"));
      const QJsonValue name = entry.value(QStringLiteral("name"));
      const QJsonValue value = entry.value(QStringLiteral("value"));
      if (!item.isObject() || entry.size() != 3 || !member.isDouble() ||
          member.toDouble() != member.toInt(-1) || !name.isString() || !value.isString()) {
        return fail(QStringLiteral("an entry of %1 is not {\"member\", \"name\", \"value\"}")
                        .arg(ListKey(variable)));
      }
      members.push_back({variable, member.toInt(), name.toString(), value.toString()});
    }
  }
  ValueStorage read = values;
  if (!ApplyMemberTexts(members, read, error)) {
    return false;
  }
  if (read.Service.DeviceType != type.toInt()) {
    return fail(QStringLiteral("the device type %1 disagrees with the service parameters' %2")
                    .arg(type.toInt())
                    .arg(read.Service.DeviceType));
  }
  // Nothing the settings page itself would refuse goes to the instrument.
  if (const std::optional<QString> out = UserSettingsOutOfRange(read.Settings)) {
    return fail(*out);
  }
  values = read;
  return true;
}

}  // namespace vantor::cli
