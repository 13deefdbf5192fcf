#pragma once

// Everything about the references from a site's text files to its images, in one include:
// the index (reference_index), its rewriter (reference_rewrite) and the site check
// (site_check).
#include "optimize/reference_index.hpp"
#include "optimize/reference_rewrite.hpp"
#include "optimize/site_check.hpp"
