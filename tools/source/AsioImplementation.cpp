// The compiled parts of Boost.Asio and its TLS layer, once for the whole program: with
// BOOST_ASIO_SEPARATE_COMPILATION (set for every file of the target) no other file compiles
// them again. Beast's part is in BeastImplementation.cpp, so the two compile in parallel.
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
