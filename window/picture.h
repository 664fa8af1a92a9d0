#pragma once

class QPixmap;
class QString;

// The largest picture the program decodes, counted at 4 bytes a pixel: 512 MiB is about 134
// megapixels, room for any camera photo, while a small file that claims absurd dimensions is
// refused before anything of its size is allocated.
inline constexpr int pictureAllocationLimitMiB = 512;

// Sets the toolkit's decoder limit and sizes its pixmap cache so that it can hold any picture that
// the decoder accepts: the window loads its picture twice, and the second load is then served
// from the cache instead of being decoded again.
void preparePictureLoading();

// Loads the picture through the toolkit's loader (its pixmap cache first); a null pixmap for what
// is not a regular file (a FIFO, a device), which is never opened. The decoders' own
// messages ("libpng error: ...") are held back while it loads and passed on only when the picture
// loads: for a picture that cannot be shown, the program's own message says what went wrong.
[[nodiscard]] QPixmap loadPicture(const QString &path);

// Why the picture at path cannot be shown, in a few words for an error message ("No such file or
// directory", "Is a directory", the decoder's reason, ...). Meant for after a load has failed;
// prints nothing itself.
[[nodiscard]] QString pictureProblem(const QString &path);
