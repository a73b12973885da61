// watchd: keeps up to four programs alive.
#include "supervisor/daemon.h"

int main(int argc, char **argv)
{
    return daemon_main(argc, argv);
}
