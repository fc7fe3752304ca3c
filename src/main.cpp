#include "app/Program.h"

int main(int argc, char* argv[])
{
    return runProgram(
        argc, argv,
        {QStringLiteral(KX_ASSET_SERVER_ORIGIN), QStringLiteral(KX_INFO_SERVICE_ORIGIN)});
}
