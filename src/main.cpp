#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QStringList>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "batch.h"
#include "commandline.h"
#include "form1.h"

namespace {

// A window program on Windows has no console: one started from cmd writes
// to the one cmd has, unless its output goes elsewhere already.
void useParentConsole()
{
#ifdef _WIN32
    const bool redirected = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN;
    if (!redirected && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
        std::cout.clear();
        std::cerr.clear();
    }
#endif
}

bool stderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::vector<std::string> argumentsOf(const QStringList& arguments)
{
    std::vector<std::string> utf8;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        utf8.push_back(arguments[i].toStdString());
    return utf8;
}

} // namespace

int main(int argc, char* argv[])
{
    using dotmatrix::Invocation;
    Invocation invocation;
    {
        // The arguments as the system gives them, in any script.
        QCoreApplication reading(argc, argv);
        invocation = dotmatrix::readCommandLine(argumentsOf(QCoreApplication::arguments()));
    }
    if (!invocation.problem.empty() || invocation.mode != Invocation::Mode::Window) {
        useParentConsole();
        if (!invocation.problem.empty()) {
            std::cerr << "dotmatrix: " << invocation.problem << "\n";
            return 2;
        }
        if (invocation.mode == Invocation::Mode::Help) {
            std::cout << dotmatrix::helpText();
            return 0;
        }
        if (invocation.mode == Invocation::Mode::Version) {
            std::cout << "dotmatrix " << DOTMATRIX_VERSION << "\n";
            return 0;
        }
        return dotmatrix::runBatch(invocation, std::cout, std::cerr, stderrIsTerminal());
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(dotmatrix::kApplicationName));
    dotmatrix::Form1 window;
    window.show();
    window.openFiles(QString::fromStdString(invocation.source), QString::fromStdString(invocation.target));
    return QApplication::exec();
}
