// What the script tests take from the C++ test support:
//   descriptor [slots]  writes the test descriptor, prints its path
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
        std::cout << descriptor.write() << "\n";
        return 0;
    }
    if (command == "info_layout") {
        std::cout << sizeof(Shared_Info_Struct) << " " << offsetof(Shared_Info_Struct, ready_to_start) << "\n";
        return 0;
    }
    std::cerr << "usage: " << argv[0] << " descriptor [slots] | info_layout\n";
    return 2;
}
