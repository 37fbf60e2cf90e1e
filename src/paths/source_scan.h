// The source scan: turns the source roots of a copy job into its planned
// files and folders, each with its destination under destinationRoot, and
// counts the job's files and bytes.
#ifndef QV_PATHS_SOURCE_SCAN_H_
#define QV_PATHS_SOURCE_SCAN_H_

#include <string>
#include <string_view>

#include "frame/job_context.h"
#include "paths/path_algebra.h"

namespace qv {

// Appends to the job plan one PlannedFile per file and one PlannedDirectory
// per folder found under the request's source roots, in request order;
// inside a folder root depth first, each folder before its contents, entries
// in the order the file system lists them. Links met inside a folder are
// neither planned nor followed; a root that is a link is followed by its
// resolution, and one whose target is gone is ignored. Sends "Scanning
// source..." whenever totalFiles reaches a multiple of 512 and "Source scan
// complete." at the end.
//
// Returns early, without the final event, once the job is cancelled; the
// caller tells that case by the job's cancelled flag. Throws
// std::runtime_error("Source path was not found: " + the root as the request
// holds it) when a root's own information cannot be read; per-entry
// failures are counted and recorded in the job's error list instead.
//
// Runs on one thread before any worker starts, so the planned lists need no
// lock; counters are atomic because other threads read them later.
void scanSources(JobContext& job);

// Reads the size and last-write time of `path` (without following a link)
// and appends its PlannedFile with `destination`, adding it to totalFiles and
// totalBytes. When they cannot be read, counts a failed file and records
// "Unable to read source information: " + the system's text instead.
void addScannedFile(JobContext& job, const std::u16string& path,
                    const std::u16string& destination);

// The destination folder of a folder root: destinationRoot joined with the
// root's own name. A root without a name of its own (a drive root `C:\`, the
// POSIX `/`, a share or device root) is given one that keeps its copies
// inside destinationRoot; see the definition.
std::u16string rootDestinationFolder(PathStyle style,
                                     std::u16string_view destinationRoot,
                                     std::u16string_view root);

}  // namespace qv

#endif  // QV_PATHS_SOURCE_SCAN_H_
