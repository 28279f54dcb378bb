-- Files the photos of a folder (or one photo) into the album with that number.
tell media library
	add photos "(PhotosConduit:FolderPath)" to album id "(PhotosConduit:AlbumID)"
end tell
