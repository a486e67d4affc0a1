#pragma once

#include <stdexcept>

// Every failure of the network layer; what() holds the user-visible text (UTF-8).
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
