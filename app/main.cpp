#include "app/CMarrowdyneApp.h"

int main(int argc, char** argv) {
    CMarrowdyneApp app(argc, argv);
    return app.InitInstance();
}
