// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fake_serial_port.h"
#include "journal/journal.h"
#include "journal_rows.h"
#include "post/post_core.h"
#include "recording_view.h"
#include "remote/post_mqtt_client.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A post without its window: its session and broker on a recording port, drawing on a recording
// view, with its journal and its settings in a scratch folder.
struct PostRig {
    QTemporaryDir home;
    FakeSerialPort port;
    FakeStatusLine status;
    RecordingView view;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<PostCore> post;

    // Built afresh, as a program starting, and its panel set up.
    void start(const QString& journalFile = {})
    {
        post.reset();
        journal = std::make_unique<Journal>(journalFile.isEmpty() ? home.filePath("registo.sqlite") : journalFile);
        post = std::make_unique<PostCore>(port, status, view, home.filePath("pref.vyr"), journal.get());
        post->session.start();
    }
    // painel-sinaletico.conf, before the start.
    [[nodiscard]] bool writeConf(const QByteArray& text) const
    {
        QFile conf(home.filePath("painel-sinaletico.conf"));
        return conf.open(QIODevice::WriteOnly) && conf.write(text) == text.size();
    }
    // The journal's rows that match `where`, once all recorded so far is written.
    [[nodiscard]] QString journaled(const QString& columns, const QString& where) const
    {
        journal->flush();
        return journalRows(journal->fileName(), columns, where).join(", ");
    }
    [[nodiscard]] bool connected() const { return post != nullptr && post->session.started() && post->mqtt.client() != nullptr && post->mqtt.client()->isConnected(); }
};
