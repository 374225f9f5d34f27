#pragma once

#include <memory>
#include <string>
#include <vector>

#include "xelo_app_desc_manager.h"

// One text replacement in a copy of an example file.
struct Example_Edit {
    enum File { MAIN, SECONDARY };
    File file;
    std::string find;
    std::string replace;
};

struct Load_Options {
    bool develop = false;
    bool master_offline = false;
    bool bridge = false;
};

// Stands in for the framework server: copies the example descriptor into a
// fresh directory (its target path pointing there), applies edits, builds the
// manager with the framework's five lists and calls load_data_ex and
// print_loaded_data, keeping what they write on standard output.
class Descriptor_Driver {
public:
    static const char* const MAIN_FILE;
    static const char* const SECONDARY_FILE;

    Descriptor_Driver();
    ~Descriptor_Driver();
    Descriptor_Driver(const Descriptor_Driver&) = delete;
    Descriptor_Driver& operator=(const Descriptor_Driver&) = delete;

    // Throws when a find text does not occur exactly once.
    void write_example(const std::vector<Example_Edit>& edits = {}) const;
    void write_file(const std::string& name, const std::string& content) const;

    // Builds a new manager and loads it; the load's exception passes out,
    // the output is kept either way.
    void load(const Load_Options& options = {}, const std::string& file = MAIN_FILE);
    // The text of the load's exception, or "no exception".
    std::string load_error(const Load_Options& options = {}, const std::string& file = MAIN_FILE);
    void print();

    const std::string& dir() const { return m_dir; }
    const std::string& output() const { return m_output; }
    Application_Descriptor_Manager& manager() const { return *m_manager; }

    IO_Descriptor_List outputs;
    IO_Descriptor_List inputs;
    Async_IO_Descriptor_List async_outputs;
    Async_IO_Descriptor_List async_inputs;
    Data_Semaphore_Group_List groups;

private:
    std::string m_dir;
    std::string m_output;
    std::unique_ptr<Application_Descriptor_Manager> m_manager;
};

// Texts of the log lines of one level, in order ("ERR", "WAR" or "INF").
std::vector<std::string> log_texts(const std::string& output, const std::string& level);

// Finds a record of a list by its virtual name; throws when absent.
IO_Descriptor& io_named(const IO_Descriptor_List& list, const std::string& name);
