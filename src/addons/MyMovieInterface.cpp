#include "MyMovieInterface.h"

TMovieInterface::~TMovieInterface() = default;
