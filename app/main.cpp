#include "app_main.h"

int main(int argc, char** argv)
{
    return run_application(argc, argv);
}
