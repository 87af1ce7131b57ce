#include "windowfixture.h"
#include "windowprobe.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>

WindowFixture::WindowFixture()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configFolder.path()));
}

WindowFixture::~WindowFixture() = default;

void WindowFixture::forgetSettings()
{
    QFile::remove(MainWindow::settingsPath());
}

MainWindow &WindowFixture::newWindow()
{
    window.reset();
    window = std::make_unique<MainWindow>();
    window->installEventFilter(this);
    written.clear();
    connect(&WindowProbe::session(*window), &SensorSession::written, this,
            [this](const QByteArray &frame) { written << frame; });
    ticks = 0;
    lastTickAt = -1;
    driven = false;
    clock.start();
    return *window;
}

bool WindowFixture::openPort(const QString &path)
{
    auto *com = widget<QComboBox>(QStringLiteral("comboBoxCOM"));
    com->lineEdit()->clear();
    QTest::keyClicks(com->lineEdit(), path);
    if (com->currentText() != path)
        return false;
    widget<QAbstractButton>(QStringLiteral("pushButtonOpen"))->click();
    return WindowProbe::serial(*window).isOpen();
}

bool WindowFixture::openOnPty()
{
    closeAll();
    pty = std::make_unique<PtyPair>();
    newWindow();
    return pty->isValid() && openPort(pty->slavePath());
}

void WindowFixture::closeAll()
{
    window.reset();
    pty.reset();
    forgetSettings();
}

bool WindowFixture::press(const QString &target)
{
    if (target.startsWith(QLatin1String("on_")))
        return QMetaObject::invokeMethod(window.get(), target.toLatin1().constData());
    auto *button = window->findChild<QAbstractButton *>(target);
    if (button)
        button->click();
    return button != nullptr;
}

bool WindowFixture::set(const QString &nameValue)
{
    const QString text = nameValue.section(QLatin1Char('='), 1);
    QObject *object = window->findChild<QObject *>(nameValue.section(QLatin1Char('='), 0, 0));
    if (auto *edit = qobject_cast<QLineEdit *>(object)) {
        edit->setText(text);
    } else if (auto *label = qobject_cast<QLabel *>(object)) {
        label->setText(text);
    } else if (auto *combo = qobject_cast<QComboBox *>(object)) {
        if (combo->findText(text) < 0)
            return false;
        combo->setCurrentIndex(combo->findText(text));
    } else if (auto *button = qobject_cast<QAbstractButton *>(object)) {
        button->setChecked(text == QLatin1String("1"));
    } else {
        return false;
    }
    return true;
}

bool WindowFixture::set(const QStringList &nameValues)
{
    return std::all_of(nameValues.begin(), nameValues.end(), [this](const QString &nameValue) { return set(nameValue); });
}

QString WindowFixture::value(const QString &name) const
{
    QObject *object = window->findChild<QObject *>(name);
    if (auto *edit = qobject_cast<QLineEdit *>(object))
        return edit->text();
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *combo = qobject_cast<QComboBox *>(object))
        return combo->currentText();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    return QStringLiteral("<no widget>");
}

QStringList WindowFixture::values(const QStringList &nameValues) const
{
    QStringList actual;
    for (const QString &nameValue : nameValues) {
        const QString name = nameValue.section(QLatin1Char('='), 0, 0);
        actual << name + QLatin1Char('=') + value(name);
    }
    return actual;
}

QStringList WindowFixture::logLines() const
{
    return widget<QPlainTextEdit>(QStringLiteral("textEditPM"))->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool WindowFixture::waitTicks(int count)
{
    if (driven) {
        tick(count);
        return true;
    }
    const int target = ticks + count;
    return QTest::qWaitFor([&] { return ticks >= target; }, 400 * count + 600);
}

bool WindowFixture::eventFilter(QObject *watched, QEvent *event)
{
    if (window && watched == window.get() && event->type() == QEvent::Timer
        && static_cast<QTimerEvent *>(event)->timerId() == WindowProbe::pollTimerId(*window)) {
        if (driven)
            return true; // the test runs the ticks
        ++ticks;
        lastTickAt = clock.elapsed();
    }
    return false;
}

void WindowFixture::driveTime()
{
    driven = true;
    now = WindowProbe::elapsed(*window); // the time the window has seen so far
    WindowProbe::setClock(*window, [this] { return now; });
    tick(); // a first poll: the line has been quiet since the port was opened
}

bool WindowFixture::deliver(const QByteArray &bytes)
{
    QSerialPort &port = WindowProbe::serial(*window);
    const qint64 expected = port.bytesAvailable() + bytes.size();
    if (!pty->write(bytes))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (port.bytesAvailable() < expected && waited.elapsed() < 2000)
        port.waitForReadyRead(50);
    return port.bytesAvailable() >= expected;
}

void WindowFixture::tick(int count)
{
    for (int i = 0; i < count; ++i) {
        now += 300;
        ++ticks;
        lastTickAt = now;
        WindowProbe::tick(*window);
    }
}

bool WindowFixture::tickUntil(const std::function<bool()> &done, int maxTicks)
{
    for (int i = 0; i < maxTicks && !done(); ++i)
        tick();
    return done();
}

void WindowFixture::advanceTo(qint64 ms)
{
    now = ms;
    WindowProbe::advance(*window);
}

QStringList WindowFixture::closeBoxes(QMessageBox::StandardButton answer)
{
    QStringList texts;
    for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
        if (!box->isVisible())
            continue;
        texts << box->windowTitle() + QStringLiteral(": ") + box->text();
        QAbstractButton *button = box->button(answer) ? box->button(answer) : box->escapeButton();
        if (button)
            button->click();
        else
            box->reject();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return texts;
}
