-- Files one track (or a folder of them) into the person's music library in
-- the collection of the playlist's name, then puts it on that playlist,
-- making the playlist when it is missing.
tell media library
	set theTracks to add file "(MusicScript:FolderPath)" to collection "(MusicScript:PlaylistName)"
	set thePlaylist to playlist "(MusicScript:PlaylistName)" creating
	add theTracks to thePlaylist
end tell
