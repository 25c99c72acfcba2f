#include "sim_cli.hpp"

#include <iostream>

int main(int argc, char **argv) {
    return zmod4710_sim::run_sim_cli(argc, argv, std::cout, std::cerr);
}
