#include "front/front.h"
#include "platform/platform.h"

int main(int argc, char** argv)
{
    QelVRXPR_StartPlatform();
    QelVRXPR_Main(argc, argv);
}
