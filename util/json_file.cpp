// Whole-file JSON reading and member access on cJSON trees.
#include "util/json_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

cJSON *read_json_file(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0 || st.st_size <= 0)
        return nullptr;
    // A plain descriptor rather than a stream: stdio would allocate a buffer
    // of its own on top of the one the whole file is read into.
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    size_t size = (size_t)st.st_size;
    char *text = static_cast<char *>(malloc(size + 1));
    size_t got = 0;
    while (text && got < size) {
        ssize_t n = read(fd, text + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += (size_t)n;
    }
    close(fd);
    // Only the bytes actually read reach the parser: the file may have
    // shrunk since stat, or not be a regular file at all.
    cJSON *tree = nullptr;
    if (text && got > 0) {
        text[got] = '\0';
        tree = cJSON_Parse(text);
    }
    free(text);
    return tree;
}

const char *json_get_string(const cJSON *object, const char *name)
{
    const cJSON *item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

int json_get_int(const cJSON *object, const char *name)
{
    const cJSON *item = cJSON_GetObjectItem(object, name);
    if (cJSON_IsNumber(item) || cJSON_IsTrue(item))
        return item->valueint;
    return 0;
}

int json_is_true(const cJSON *object, const char *name)
{
    return cJSON_IsTrue(cJSON_GetObjectItem(object, name)) ? 1 : 0;
}
