/*
 * One small program that plays four supervised programs for the demo,
 * chosen by the name it is started under:
 *   ex-exiter   works for two seconds, then exits with code 3
 *   ex-crasher  works for a second, then dies of a segmentation fault;
 *               started for a restart of all (-r 160) it stays up
 *   ex-watched  refreshes its alive file (-A PATH) for three seconds, then
 *               hangs without refreshing it until the watchdog kills it;
 *               restarted after such a kill (-r 199) it keeps refreshing
 *   ex-restart  works for twenty seconds, then asks for a restart of all (160)
 * Every start prints its command line, so the demo shows the restart reasons.
 */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void sleep_ms(long ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

int main(int argc, char **argv)
{
    const char *name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
    const char *alive = NULL;
    int reason = 0;
    char line[512] = "";
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && strcmp(argv[i - 1], "-A") == 0)
            alive = argv[i];
        if (i > 0 && strcmp(argv[i - 1], "-r") == 0)
            reason = atoi(argv[i]);
        strncat(line, " ", sizeof line - strlen(line) - 1);
        strncat(line, argv[i], sizeof line - strlen(line) - 1);
    }
    printf("  started:%s\n", line);
    fflush(stdout);

    if (strcmp(name, "ex-exiter") == 0) {
        sleep_ms(2000);
        return 3;
    }
    if (strcmp(name, "ex-crasher") == 0 && reason != 160) {
        sleep_ms(1000);
        raise(SIGSEGV);
    }
    if (strcmp(name, "ex-watched") == 0 && alive) {
        for (int i = 0; i < 30 || reason == 199; ++i) {
            int fd = open(alive, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0)
                close(fd);
            sleep_ms(100);
        }
    }
    if (strcmp(name, "ex-restart") == 0) {
        sleep_ms(20000);
        return 160;
    }
    for (;;)
        pause();
}
