/*
 * Runs the benchmark as a child subreaper: every orphan below it is collected
 * the moment it ends, as a router's init does. Without it, the programs of a
 * stopped supervisor stay zombies until this machine's init gets round to
 * them, and the next start-up would find processes of their names still in
 * the process list.
 *
 * Usage: bw-reap PROGRAM [ARG...]   exits with the program's status
 */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: bw-reap PROGRAM [ARG...]\n", stderr);
        return 2;
    }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        perror("prctl");
        return 1;
    }
    pid_t program = fork();
    if (program < 0) {
        perror("fork");
        return 1;
    }
    if (program == 0) {
        execvp(argv[1], argv + 1);
        perror(argv[1]);
        _exit(127);
    }
    /* An interrupt from the terminal reaches the program too, which cleans
     * up; stay until it has. */
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    for (;;) {
        int status;
        pid_t pid = wait(&status);
        if (pid == program)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (pid < 0 && errno != EINTR)
            return 1;
    }
}
