#pragma once

// Everything about the references from a site's text files to its images, in one include:
// the index (reference_index), its rewriter (reference_rewrite) and the site check
// (site_check).
#include "refs/reference_index.hpp"
#include "refs/reference_rewrite.hpp"
#include "refs/site_check.hpp"
