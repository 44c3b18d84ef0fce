// Asio's and Beast's compiled parts, once for the whole program
// (BOOST_ASIO_SEPARATE_COMPILATION, BOOST_BEAST_SEPARATE_COMPILATION),
// rather than again in every file that includes them.

#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
