// Whole-file JSON reading and member access on cJSON trees.
#pragma once

#include <cjson/cJSON.h>

// Reads and parses the whole file; null when it is missing, empty, unreadable
// or not JSON. The caller owns the tree.
cJSON *read_json_file(const char *path);

// The text of a string member (borrowed from the tree), or null.
const char *json_get_string(const cJSON *object, const char *name);

// A number member truncated toward zero, 1 for true, otherwise 0.
int json_get_int(const cJSON *object, const char *name);

// 1 when the member is the literal true, otherwise 0.
int json_is_true(const cJSON *object, const char *name);

// Deletes its tree when it goes out of scope.
class json_tree
{
  public:
    explicit json_tree(cJSON *tree) : tree_(tree) {}
    ~json_tree() { cJSON_Delete(tree_); }
    json_tree(const json_tree &) = delete;
    json_tree &operator=(const json_tree &) = delete;
    cJSON *get() const { return tree_; }
    explicit operator bool() const { return tree_ != nullptr; }

  private:
    cJSON *tree_;
};
