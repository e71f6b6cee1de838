// A station reduced to its MQTT connection: connects with a last will,
// says "connected" on standard output and stays until it is killed.
//   vantor-mqtt-probe PORT CLIENT_ID WILL_TOPIC WILL_PAYLOAD
#include <QCoreApplication>
#include <cstdio>

#include "MqttClient.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 5) {
    std::fprintf(stderr, "usage: vantor-mqtt-probe PORT CLIENT_ID WILL_TOPIC WILL_PAYLOAD\n");
    return 2;
  }
  vantor::MqttSettings settings;
  settings.Host = QStringLiteral("127.0.0.1");
  settings.Port = args[1].toInt();
  settings.ClientId = args[2];
  settings.WillTopic = args[3];
  settings.WillPayload = args[4].toUtf8();
  vantor::MqttClient client(settings);
  QObject::connect(&client, &vantor::MqttClient::Connected, [] {
    std::printf("connected\n");
    std::fflush(stdout);
  });
  if (const auto mistake = client.Start()) {
    std::fprintf(stderr, "%s\n", qPrintable(*mistake));
    return 1;
  }
  return app.exec();
}
