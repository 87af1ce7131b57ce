// The baseline of zelvikctl's start-up: a bare QCoreApplication program that prints one line and
// exits, as `zelvikctl --version` does.
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    std::puts("bare 1.0");
    return 0;
}
