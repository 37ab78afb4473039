// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal_rows.h"
#include "mqtt_broker.h"
#include "remote/post_mqtt_client.h"
#include "remote/request_age.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Why the broker cannot be reached is said in Portuguese, in the status and once in the journal
// for each distinct cause (origin "remoto"), the library's words only in the detail; and the
// client keeps trying, TLS failures included, after which libmosquitto's own thread gives up.
TEST(MqttLinkTest, EachConnectionFailureIsSaidInPortugueseAndJournaledOnce)
{
    QTemporaryDir dir;
    TestCertificates certificates;
    ASSERT_TRUE(certificates.made);
    QFile passwords(dir.filePath("passwords"));
    ASSERT_TRUE(passwords.open(QIODevice::WriteOnly));
    passwords.close();
    ASSERT_EQ(QProcess::execute("mosquitto_passwd", {"-b", passwords.fileName(), "posto", "certa"}), 0);
    passwords.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ExeOther);
    MqttBroker trusted(false, certificates.listener("localhost"));
    MqttBroker elsewhere(false, certificates.listener("elsewhere"));
    MqttBroker guarded(false, "allow_anonymous false\npassword_file " + passwords.fileName() + "\n");
    MqttBroker gone;
    gone.stop();
    QFile wrongPassword(dir.filePath("senha"));
    ASSERT_TRUE(wrongPassword.open(QIODevice::WriteOnly) && wrongPassword.write("errada\n") > 0);
    wrongPassword.close();
    wrongPassword.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    const auto settings = [](const QString& host, int port) {
        MqttSettings m;
        m.host = host;
        m.port = port;
        m.id = "posto-1";
        return m;
    };
    MqttSettings untrusted = settings("localhost", trusted.port);
    untrusted.tls = true;
    untrusted.caFile = certificates.path("other.crt");
    MqttSettings misnamed = settings("localhost", elsewhere.port);
    misnamed.tls = true;
    misnamed.caFile = certificates.path("ca.crt");
    MqttSettings refused = settings("127.0.0.1", guarded.port);
    refused.user = "posto";
    refused.passwordFile = wrongPassword.fileName();
    const std::vector<std::pair<MqttSettings, QString>> cases{
        {untrusted, "o certificado do broker não é de uma autoridade em que se confia"},
        {misnamed, "o certificado do broker não é para localhost"},
        {refused, "nome ou palavra-passe recusados"},
        {settings("127.0.0.1", gone.port), QStringLiteral("não há broker em 127.0.0.1:%1").arg(gone.port)},
    };
    for (const auto& [mqtt, cause] : cases) {
        Journal journal(dir.filePath(QStringLiteral("registo-%1.sqlite").arg(mqtt.port)));
        PostMqttClient link(
            mqtt, [](Sign, Origin, const QString&) { return SendOutcome::Sent; }, &journal);
        QString status;
        QObject::connect(&link, &PostMqttClient::statusChanged, [&](const QString& s) { status = s; });
        ASSERT_EQ(link.start(), std::nullopt) << cause.toStdString();
        // Tried again with the same cause: said once.
        EXPECT_TRUE(QTest::qWaitFor([&] { return status.contains(cause + " (tentativa 2)"); }, 10000)) << status.toStdString();
        journal.flush();
        const QStringList rows = journalRows(journal.fileName(), "origem, resultado, motivo, pormenor, falha");
        ASSERT_EQ(rows.size(), 1) << rows.join("\n").toStdString();
        EXPECT_TRUE(rows[0].startsWith("remoto|MQTT desligado|" + cause + "|" + mqtt.host + ":" + QString::number(mqtt.port) + " como posto-1; libmosquitto: "))
            << rows[0].toStdString();
        EXPECT_TRUE(rows[0].endsWith("|1"));
    }
    MqttSettings missing = misnamed;
    missing.caFile = dir.filePath("nenhum.crt");
    EXPECT_EQ(PostMqttClient(missing, {}, nullptr).start(), "o ficheiro " + missing.caFile + " não existe (mqtt/ca_file)");
}

// How late a request comes is told against the quickest way of the last minutes, on two clocks
// that nobody sets and that may be any distance apart; each control room's run has its own, and
// with nothing recent from it nothing is judged.
TEST(RequestAges, AHeldUpRequestIsToldFromAFreshOneWhateverTheClocks)
{
    RequestAges ages;
    constexpr std::int64_t far = 1'000'000'000; // the control room's clock against ours
    EXPECT_EQ(ages.delay("c", far, 1000), std::nullopt);
    ages.sample("c", far, 5'008);
    ages.sample("c", far + 1'000, 6'003); // 5 ms quicker: the way at its quickest
    ages.sample("c", far + 1'500, 6'540);
    for (const auto& [sent, now, late] : std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>>{
             {far + 2'000, 7'003, 0}, {far + 2'000, 7'050, 47}, {far + 2'000, 17'003, 10'000}, {far + 2'000, 6'000, 0}})
        EXPECT_EQ(ages.delay("c", sent, now), late) << now;
    EXPECT_EQ(ages.delay("d", far, 7'003), std::nullopt);
    // The quickest way of the window only: what was quicker long ago no longer counts.
    const std::int64_t later = 6'540 + RequestAges::windowMs + 1;
    EXPECT_EQ(ages.delay("c", far, later), std::nullopt);
    ages.sample("c", far + 100'000, later);
    EXPECT_EQ(ages.delay("c", far + 100'000, later + 20), 20);
    // A new run's clock makes room by dropping the one heard from longest ago.
    for (std::size_t i = 0; i < RequestAges::maxClocks; ++i) ages.sample("k" + std::to_string(i), 0, later + 1 + std::int64_t(i));
    EXPECT_EQ(ages.delay("c", far + 100'000, later + 20), std::nullopt);
    EXPECT_EQ(ages.delay("k0", 0, later + 1), 0);
}

} // namespace
