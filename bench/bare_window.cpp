// The least a Qt Widgets program has to do to put a byte on a serial line once its window is on
// screen: the reference the program's own start-up is measured against.
#include <QApplication>
#include <QLabel>
#include <QSerialPort>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class BareWindow final : public QWidget {
public:
    explicit BareWindow(QString device) : device_(std::move(device)) {}

protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        // Queued, as the program queues its panel start-up: the window is shown first.
        if (!sent_) QMetaObject::invokeMethod(this, &BareWindow::sendOneByte, Qt::QueuedConnection);
        sent_ = true;
    }

private:
    void sendOneByte()
    {
        QSerialPort port(device_);
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        if (!port.open(QIODevice::WriteOnly) || port.write("\x71", 1) != 1 || !port.waitForBytesWritten(1000)) {
            std::fprintf(stderr, "bare_window: %s: %s\n", qPrintable(device_), qPrintable(port.errorString()));
            std::exit(1);
        }
        port.close();
    }

    QString device_;
    bool sent_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // --label: one line of text as well, which is enough to bring up the font database, so
    // that its share of a start-up can be told apart from the rest.
    const bool withLabel = argc == 3 && std::strcmp(argv[1], "--label") == 0;
    if (argc != 2 && !withLabel) {
        std::fprintf(stderr, "usage: bare_window [--label] DEVICE\n");
        return 2;
    }
    BareWindow window(QString::fromLocal8Bit(argv[argc - 1]));
    if (withLabel) (new QLabel(QStringLiteral("Parar"), &window))->move(10, 10);
    window.show();
    return QApplication::exec();
}
