// The compiled parts of Boost.Beast, once for the whole program (BOOST_BEAST_SEPARATE_COMPILATION
// is set for every file of the target).
#include <boost/beast/src.hpp>
