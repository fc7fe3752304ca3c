#include "app/Form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    Form1 window(QStringLiteral(KX_ASSET_SERVER_ORIGIN), QStringLiteral(KX_INFO_SERVICE_ORIGIN));
    window.show();
    return application.exec();
}
