#include "fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

#ifdef ZELVIK_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>

#include <thread>

namespace {
// Joined by installFormFonts(), or at exit when the program ended before it.
struct ConfigurationReader {
    std::thread thread;
    void wait()
    {
        if (thread.joinable())
            thread.join();
    }
    ~ConfigurationReader() { wait(); }
} reader;
} // namespace

void startReadingFontConfiguration()
{
    if (!reader.thread.joinable())
        reader.thread = std::thread([] { FcInit(); });
}

static void waitForFontConfiguration()
{
    reader.wait();
}
#else
void startReadingFontConfiguration() {}
static void waitForFontConfiguration() {}
#endif

void installFormFonts()
{
    // Qt would otherwise read the configuration a second time beside the reader.
    waitForFontConfiguration();
    // Noto Sans CJK SC comes with fonts-noto-cjk, which the set-up installs; the others are
    // fallbacks for machines set up otherwise.
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"),
                                QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    QApplication::setFont(QFont(QStringLiteral("微软雅黑"), 9));
}
