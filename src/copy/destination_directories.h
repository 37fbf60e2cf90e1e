// The destination folder tree: created before any file is copied, given its
// sources' times and attributes after every file has been committed.
#ifndef QV_COPY_DESTINATION_DIRECTORIES_H_
#define QV_COPY_DESTINATION_DIRECTORIES_H_

#include "frame/job_context.h"
#include "paths/destination_planning.h"

namespace qv {

// Creates every planned folder and the parent folder of every planned file,
// shortest path first, until the job is cancelled. A folder that cannot be
// created counts once in failedFiles and adds one line to the error list;
// the files below it fail on their own later. Returns which folders this
// call created and which it planned, for the conflict decision.
JobFolders createDestinationDirectories(JobContext& job);

// Gives each planned folder with a source its source's times and then its
// attributes, deepest first, as the preserve options ask. Failures are
// warnings only. Runs after the last commit: writing a file into a folder
// would change the folder's times again.
void applyDirectoryMetadata(JobContext& job);

}  // namespace qv

#endif  // QV_COPY_DESTINATION_DIRECTORIES_H_
