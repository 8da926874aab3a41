#include <QApplication>

#include "form1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(dotmatrix::kApplicationName));
    dotmatrix::Form1 window;
    window.show();
    return QApplication::exec();
}
