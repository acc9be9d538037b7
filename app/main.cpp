#include "app/PelvarApp.h"

int main(int argc, char** argv)
{
    pelvar::CPelvarApp app(argc, argv);
    app.InitInstance();
    return 0;
}
