// What the script tests take from the C++ test support:
//   descriptor [slots [option...]]
//                       writes the test descriptor, prints its path; the
//                       options are with_channel, with_value_types and
//                       trace_slots=N
//   info_layout         prints the byte size of the info segment and the
//                       offset of its ready_to_start field

#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <string>

#include "framework_shared_memory.h"
#include "test_descriptor.h"

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "descriptor") {
        Test_Descriptor descriptor;
        if (argc > 2)
            descriptor.slots = std::atoi(argv[2]);
        const std::string trace_slots = "trace_slots=";
        for (int i = 3; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "with_channel") {
                descriptor.with_channel = true;
            } else if (option == "with_value_types") {
                descriptor.with_value_types = true;
            } else if (option.compare(0, trace_slots.size(), trace_slots) == 0) {
                descriptor.trace_slots = std::atoi(option.c_str() + trace_slots.size());
            } else {
                std::cerr << "unknown descriptor option " << option << "\n";
                return 2;
            }
        }
        std::cout << descriptor.write() << "\n";
        return 0;
    }
    if (command == "info_layout") {
        std::cout << sizeof(Shared_Info_Struct) << " " << offsetof(Shared_Info_Struct, ready_to_start) << "\n";
        return 0;
    }
    std::cerr << "usage: " << argv[0] << " descriptor [slots [option...]] | info_layout\n";
    return 2;
}
