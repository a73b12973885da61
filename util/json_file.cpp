// Whole-file JSON reading and member access on cJSON trees.
#include "util/json_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

cJSON *read_json_file(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0 || st.st_size <= 0)
        return nullptr;
    FILE *stream = fopen(path, "re");
    if (!stream)
        return nullptr;
    size_t size = (size_t)st.st_size;
    char *text = static_cast<char *>(malloc(size + 1));
    if (!text) {
        fclose(stream);
        return nullptr;
    }
    // Only the bytes actually read reach the parser: the file may have
    // shrunk since stat, or not be a regular file at all.
    size_t got = fread(text, 1, size, stream);
    text[got] = '\0';
    cJSON *tree = got > 0 ? cJSON_Parse(text) : nullptr;
    fclose(stream);
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
